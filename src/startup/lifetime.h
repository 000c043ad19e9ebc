// Library load and unload. Each subsystem that keeps shared state adds its
// Init/Teardown pair here and to library_lifetime.cpp, in the load order.
#ifndef TAVIKFCU_STARTUP_LIFETIME_H
#define TAVIKFCU_STARTUP_LIFETIME_H

namespace tk::detail {
void LibraryLoad();
void LibraryUnload();
}  // namespace tk::detail

#endif  // TAVIKFCU_STARTUP_LIFETIME_H
