#include "support/child_test.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <cerrno>
#include <vector>

namespace qvtest {

std::string currentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info == nullptr ? std::string()
                         : std::string(info->test_suite_name()) + "." + info->name();
}

#if defined(_WIN32)

ChildTest::ChildTest(const std::string& test) {
  char program[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program) return;
  std::string commandLine = "\"" + std::string(program) + "\" --gtest_filter=" + test;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return;
  ::CloseHandle(process.hThread);
  m_process = process.hProcess;
  m_started = true;
}

int ChildTest::wait() {
  if (!m_started || m_waited) return m_exitCode;
  m_waited = true;
  DWORD code = 0;
  if (::WaitForSingleObject(m_process, INFINITE) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(m_process, &code))
    m_exitCode = static_cast<int>(code);
  ::CloseHandle(m_process);
  return m_exitCode;
}

#else

ChildTest::ChildTest(const std::string& test) {
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=" + test;
  std::vector<char*> argv = {program.data(), filter.data(), nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return;
  m_pid = pid;
  m_started = true;
}

int ChildTest::wait() {
  if (!m_started || m_waited) return m_exitCode;
  m_waited = true;
  int status = 0;
  pid_t result;
  do {
    result = ::waitpid(m_pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  if (result == m_pid && WIFEXITED(status)) m_exitCode = WEXITSTATUS(status);
  return m_exitCode;
}

#endif

ChildTest::~ChildTest() { wait(); }

}  // namespace qvtest
