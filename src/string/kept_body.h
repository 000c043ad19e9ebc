// Large string bodies, and the one block kept for the next large body.
//
// A body of many megabytes (a document's JSON text) needs a block that the
// heap maps afresh from the kernel, and every page of it costs a fault and
// a clearing the first time it is written; freed, it goes straight back to
// the kernel. So the block of the last large body that went is kept, and
// the next body that needs a large block takes it when it has the room,
// with its pages still mapped: a program that makes one large string after
// another (a document written again and again) waits for fresh memory once.
//
// Large blocks are large buffers of the platform: whole huge pages (2 MB)
// at a 2 MB boundary, asked of the kernel as such. One fault maps 2 MB, a
// block grows by moving its pages instead of copying them, and a kept block
// that the kernel was allowed to take back costs nothing to write again
// while it did not (a 4 KB page left so costs a fault on its next write).
// Where fresh huge pages are slow to come by (a virtual machine that gives
// freed memory back to its host), the first large text of a process pays
// for that once. A large body keeps up
// to an eighth more room than its text after FreeExtra, so that the kept
// block of one text holds the next text that grew a little. The capacity a
// string reports is what was asked for, as for every heap body.
//
// What bounds it: one block, of at most kKeptBlockMaxBytes, the one of the
// large body that went last; a program that goes on with smaller large
// bodies keeps a smaller block. While kept, all of its pages but the first
// huge page are left for the kernel to take back when it runs short of
// memory. The block is freed at unload. Any thread may free or take it (one
// atomic exchange).
#ifndef TAVIKFCU_STRING_KEPT_BODY_H
#define TAVIKFCU_STRING_KEPT_BODY_H

#include <cstddef>

namespace tk::detail {

// Bodies whose block is this large or larger come in whole huge pages and
// are kept when they go.
constexpr std::size_t kLargeBodyBlockBytes = std::size_t(4) << 20;
// Larger blocks go back to the heap when their body goes.
constexpr std::size_t kKeptBlockMaxBytes = std::size_t(1) << 30;

// From load on, large bodies that go are kept.
void OpenKeptBody();
// Frees the kept block; bodies that go later are freed as before.
void CloseKeptBody();

}  // namespace tk::detail

#endif  // TAVIKFCU_STRING_KEPT_BODY_H
