// Two tasks run at once, on this thread and a second one, where a second
// thread can be had.
#pragma once

#include <exception>
#include <thread>
#include <type_traits>

// Runs `beside` on a second thread while this one runs `here`; both are done
// on return. With no thread to be had, this one runs both. Neither may
// throw, and both must say so (noexcept): a task that threw would end the
// program, as a thread never joined does. Neither may raise a report: a
// report works on the layer's state, which the other may be using. Each
// touches only what the other does not.
template <typename Beside, typename Here>
void RunSideBySide(Beside beside, Here here) {
  static_assert(std::is_nothrow_invocable_v<Beside&> && std::is_nothrow_invocable_v<Here&>,
                "tasks run side by side are noexcept");
  std::thread helper;
  try {
    helper = std::thread(beside);
  } catch (const std::exception&) {  // no thread, or no memory for one
    beside();
  }
  here();
  if (helper.joinable()) helper.join();
}
