// The direction of the momentum being carried out, for the steps that have truncated to nothing:
// 1 down, -1 up, 0 none. The dispatch sets it before each scroll step.
#pragma once

extern int MomentumDirection;
