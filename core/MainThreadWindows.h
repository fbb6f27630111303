// The hidden windows that belong to the main thread itself. On Windows a
// window's messages reach only the thread that made it, so they are made by
// the thread that becomes the main thread, at the moment it does.
#pragma once

namespace quorlink {

// Called once, on the new main thread, by ClaimMainThread.
void MakeMainThreadWindows();

}  // namespace quorlink
