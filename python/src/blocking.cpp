#include "blocking.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace qvpy {

void runBlocking(const std::function<void()>& call, int* interrupt, double* progress,
                 const py::object& progress_callback) {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      call();
    } catch (...) {
      failure = std::current_exception();  // raised on the caller's thread
    }
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    finished.notify_one();
  });

  std::optional<py::error_already_set> raised;
  double reported = -1;
  for (;;) {
    {
      py::gil_scoped_release unlocked;
      std::unique_lock<std::mutex> lock(mutex);
      if (finished.wait_for(lock, std::chrono::milliseconds(20), [&] { return done; })) break;
    }
    if (raised) continue;  // stopping: only wait
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (progress != nullptr && !progress_callback.is_none()) {
        double value = 0;
        __atomic_load(progress, &value, __ATOMIC_ACQUIRE);
        if (value != reported) {
          reported = value;
          progress_callback(value);
        }
      }
    } catch (py::error_already_set& e) {
      raised.emplace(std::move(e));
      if (interrupt != nullptr) __atomic_store_n(interrupt, 1, __ATOMIC_RELEASE);
    }
  }
  {
    py::gil_scoped_release unlocked;
    worker.join();
  }
  if (raised) throw *raised;
  if (failure) std::rethrow_exception(failure);
  if (progress != nullptr && !progress_callback.is_none()) {
    double value = 0;
    __atomic_load(progress, &value, __ATOMIC_ACQUIRE);
    if (value != reported) progress_callback(value);
  }
}

}  // namespace qvpy
