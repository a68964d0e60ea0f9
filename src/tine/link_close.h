// Closing a TINE link, which may fail for a while after a delivery.
#pragma once

class CLogging;

// Retries CloseLink for up to 3 seconds; returns its last completion code.
int _internal_TineCloseLink(int aTineLinkID);
// The same, reporting to apLogInstance (nothing when null).
int SafeTineCloseLink(int aTineLinkID, CLogging* apLogInstance);
