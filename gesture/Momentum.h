// State of the momentum being carried out. The direction is for the steps that have truncated to
// nothing: 1 down, -1 up, 0 none; the dispatch sets it before each scroll step.
#pragma once

extern int MomentumDirection;

// Forgets the readings of the end-of-content test, so that a gesture stopped between its two
// unchanged readings does not end the next one after a single line.
void RestartEndOfContent();
