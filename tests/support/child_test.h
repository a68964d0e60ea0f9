// Copies of this test program, each running one of its tests, side by side
// with the calling test: several processes at once on every platform.
#pragma once

#include <string>

namespace qvtest {

class ChildTest {
 public:
  // Starts this program with the filter naming one test; the child inherits
  // the environment as it is at this moment.
  explicit ChildTest(const std::string& test);
  ~ChildTest();  // waits for the child
  ChildTest(const ChildTest&) = delete;
  ChildTest& operator=(const ChildTest&) = delete;

  bool started() const { return m_started; }
  // The child's exit code; -1 when it never started or ended by a signal.
  int wait();

 private:
  bool m_started = false;
  bool m_waited = false;
  int m_exitCode = -1;
#if defined(_WIN32)
  void* m_process = nullptr;
#else
  int m_pid = -1;
#endif
};

// The full name of the running test ("Suite.Name"), for a child to run.
std::string currentTestName();

}  // namespace qvtest
