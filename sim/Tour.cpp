// The built-in tour: the device boots with the gesture system installed, and a person's strokes
// go through the touch driver proxy to the window system.
#include "Runner.h"

namespace sim {

Scenario tour_scenario() {
  // The same wherever the tree is built or installed: the tour names no file.
  std::string text = R"(# The built-in tour.
# The engines' Verbose debug zone shows each hand-over and each tick of the broker's timer.
reg HKLM\DebugZones QUOBUpdater dword 0xC004
note "Gesture function off: every stroke reaches the window system unchanged"
wait 100
tap 120 160
wait 300
drag 60 250 180 80 300 rest 100
wait 300
flick 120 280 120 120 150
wait 300
note "The power manager reports idle: the pen-down goes straight through"
power idle 0x00100000
tap 40 40
power on 0x00010000
wait 300
note "A sample the panel marks invalid"
sample 0x2 400 400
sample 0x8 400 400
wait 300
note "Switching the gesture function on reloads the proxy settings"
reg HKLM\Software\Quob\Gesture Activate dword 1
wait 100
note "No window under the finger takes gestures: the stroke reaches the window system unchanged"
drag 200 100 40 100 200
wait 300
note "A finger that lands, settles and rests, then drags, pans the list: a line for every 10 pixels"
window list list 0 26 240 268 lines 200 page 12
foreground list
wait 100
drag 120 250 120 100 300 rest 600 settle 24
wait 300
note "A quick tap on the list reaches it as ordinary input, all of it at the pen-up"
tap 120 150
wait 300
note "Press and hold: the held records go out at the first move after 250 ms, then each at once"
drag 120 150 126 150 200 rest 300
wait 300
note "A stroke that starts in the bottom band reaches the window system from its pen-down"
flick 120 310 120 230 150
wait 300
note "So does one that starts on the list's scroll bar"
flick 236 200 236 120 150
wait 300
note "A flick up on the list, sounds on: the broker carries it on with momentum, a line a tick, then every second tick; the ticks slow down and a fading sound ends them"
reg HKLM\Software\Quob\Gesture Sound dword 1
flick 120 200 120 140 150
wait 3500
note "A quick tap in the middle of a momentum stops it at once and does not reach the list"
flick 120 200 120 140 150
wait 500
tap 120 200
wait 300
reg HKLM\Software\Quob\Gesture Sound dword 0
note "The same drag in the browser moves its HTML view by position"
window ie browser 0 0 240 320
window page view 0 26 240 268 parent ie lines 2000
foreground ie
drag 120 250 120 100 300 rest 600 settle 24
wait 300
note "A gesture-aware application receives a stroke to the left as a message instead"
window viewer aware 0 26 240 268
foreground viewer
flick 200 150 60 165 150
wait 300
note "A window without scroll bars is no place for gestures: a tap on it reaches it unchanged"
window label plain 20 60 200 40
foreground label
tap 100 80
wait 300
note "In a browser with five pages, on the third: a stroke to the right goes a page back"
window web browser 0 0 240 320 pages 5 at 3
window webpage view 0 26 240 268 parent web lines 2000
foreground web
wait 600
flick 60 150 200 165 150
wait 600
note "A stroke to the left goes a page forward again"
flick 200 150 60 165 150
wait 600
note "Up and to the right zooms in a step from the level the browser stored, down and to the left zooms out"
flick 80 180 180 80 150
wait 600
flick 180 80 80 180 150
wait 600
note "With Rotation on, down then right turns the screen; the proxy maps the next strokes for it"
reg HKLM\Software\Quob\Gesture Rotation dword 1
window turned list 0 26 240 268 lines 200 page 12
foreground turned
stroke 60 60 60 200 200 212 300
wait 600
note "A flick up the list, drawn on the turned screen, scrolls it"
flick 160 180 160 120 150
wait 2500
note "Down then left, the mirror stroke, turns the screen back upright for the steps after it"
stroke 260 60 260 200 120 212 300
wait 600
reg HKLM\Software\Quob\Gesture Rotation dword 0
reg HKLM\Software\Quob\Gesture Activate dword 0
wait 100
)";
  return parse_scenario(text, "<tour>", "");
}

}  // namespace sim
