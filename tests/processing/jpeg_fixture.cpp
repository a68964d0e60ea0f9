#include "jpeg_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace qvtest {

SilencedStderr::SilencedStderr() {
  std::fflush(stderr);
  m_iSavedFd = dup(2);
  const int iNull = open("/dev/null", O_WRONLY);
  if (iNull >= 0) {
    dup2(iNull, 2);
    close(iNull);
  }
}

SilencedStderr::~SilencedStderr() {
  std::fflush(stderr);
  if (m_iSavedFd >= 0) {
    dup2(m_iSavedFd, 2);
    close(m_iSavedFd);
  }
}

}  // namespace qvtest
