// versionBlock.cpp: the library's identity as key=value strings in
// read-only data.
//
// Nothing in the library reads this block. It is there for people and tools
// that look at a deployed binary (`strings libViDazoHx.so | grep ViDazoHx.`)
// and need to know which build they have without loading it.

#ifndef VIDAZOHX_VERSION
#define VIDAZOHX_VERSION "0.0.0"
#endif

namespace {

// `used` keeps the block although nothing refers to it; it stays local, so
// it adds nothing to the exported interface.
__attribute__((used)) const char kVersionBlock[] =
    "ViDazoHx.component=ViDazoHx\n"
    "ViDazoHx.version=" VIDAZOHX_VERSION "\n"
    "ViDazoHx.soname=libViDazoHx.so.inherit\n"
    "ViDazoHx.lowerLibrary=libViDazo.so\n"
    "ViDazoHx.broker=libVoKelSrv.so.13\n";

}  // namespace
