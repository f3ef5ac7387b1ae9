// The word through which a pan tells the module that hosts the engine that the stroke travelled
// far. The touch driver proxy points it at its own word; elsewhere it stays null.
#pragma once

extern int* PanTravelWord;

// Pan travel reported to the host module.
const int kPanTravel = 100;
