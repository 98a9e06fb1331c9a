#pragma once
// A screen in a sharer's stack that a share waits on: a form, an editor, a list to pick from.
// When the hub takes the sharer's screen away (another screen came, or it was dismissed without
// the user finishing), the topmost such screen of the stack hears it once; unless the user had
// already finished with it, it ends the share as its Cancel would, without hiding anything (the
// screen has gone already). See SXSharer::screenTakenAway.
//
// Threads: main thread.

namespace zv {

class SXShareScreen {
 public:
  virtual ~SXShareScreen() = default;
  virtual void shareScreenTakenAway() = 0;
};

}  // namespace zv
