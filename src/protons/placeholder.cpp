// placeholder until the platform layer lands
namespace { int placeholder; }
