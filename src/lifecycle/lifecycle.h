// Work done when the library is detached from the process.
#pragma once

void qvLibraryProcessDetach();
