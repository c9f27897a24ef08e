#pragma once

namespace docuflume {

// Lets the window handle what is waiting: repaints, clicks, a close.
void YieldToWindow();

// The same for loops that yield very often (a folder walk): the window is served at most
// every few milliseconds, so that it stays alive without the walk paying a repaint per
// folder.
void YieldToWindowThrottled();

} // namespace docuflume
