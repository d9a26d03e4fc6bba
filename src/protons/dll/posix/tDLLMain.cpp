// tDLLMain.cpp: the module-entry object, whose construction is process
// attach and whose destruction is process detach.
//
// A shared object on this platform has no entry point of its own; a static
// object gives it one. Its constructor runs when the dynamic loader
// initialises the module, and the runtime registers its destructor on this
// module's at-exit list, so detach runs at dlclose or process exit.
//
// Order matters. The session registry objects (sessionRegistry,
// registryLoadStatus, registryLock in sessions/registry.cpp) carry
// init_priority(150); this object carries init_priority(200). So the
// registry exists before the lower library is bound, and on the way out the
// lower library is closed before the registry frees what it still holds.
// Keep the two numbers in that order when touching either file.
//
// Attach and detach run inside the loader's serialised initialisation and
// finalisation; they take no lock.

#include "adapter/entryTable.h"
#include "protons/debug/debugOutput.h"
#include "protons/status/statusCodes.h"

namespace {

// The assertion's fixed origin: tests and field reports compare it.
constexpr int32_t kAttachAssertionLine = 59;
const tSourceLocation kAttachAssertion = {kFileDllMain, kAttachAssertionLine, "\n"};

// Set once attach succeeded; detach undoes only what attach did.
bool attached = false;

class tDLLMain {
 public:
  tDLLMain() noexcept {
    // What a load means (binding the lower library) is the adapter's
    // business; moduleMain is its hook into this platform-level object.
    if (moduleMain(kModuleAttach)) {
      attached = true;
      return;
    }
    // A host that loaded this module cannot be told it failed, and every
    // export would run on an unbound table: stop here, loudly.
    assertionFailure(kComponentName, kAttachAssertion,
                     "Main failed during process attach request.  Module not loaded. "
                     "No choice but to halt the process.\n");
  }

  ~tDLLMain() {
    if (!attached) return;
    moduleMain(kModuleDetach);
    attached = false;
  }

  tDLLMain(const tDLLMain&) = delete;
  tDLLMain& operator=(const tDLLMain&) = delete;
};

// After the registry objects (150), before everything of default priority.
tDLLMain moduleEntry __attribute__((init_priority(200)));

}  // namespace
