// The serve tests' zygote, forked in main before any thread of the test program starts: its
// workers are of the kinds "tab" (a live device from the page's own start) and "hang" (takes one
// request, tells so by a file "got" in its folder, and never answers).
#pragma once

#include "Zygote.h"

sim::serve::Zygote& serve_test_zygote();
