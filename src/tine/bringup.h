// Lazy start of the TINE client library and its stop at unload.
#pragma once

// At most once per process, also when first grabs come from several threads;
// later callers wait until the bring-up has finished.
void _internal_StartTineIfNotStartedAlready();
// Run when the library is detached from the process.
void _internal_StopTineIfAlreadyStarted();
