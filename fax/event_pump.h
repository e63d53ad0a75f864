// Lets pending events of the application run in the middle of a long decode.
#pragma once

// Dispatches the pending events. When one of them asked the application to
// quit, the request is held back, posted again so that the main loop still
// ends, and true is returned so that the caller can stop its work.
bool PumpPendingEvents();
