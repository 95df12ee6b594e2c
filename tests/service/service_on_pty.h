#pragma once
// The port opened on a pseudo-terminal whose master side the test plays as the module.

#include "pty_peer.h"

namespace tarnix {

class ServiceOnPty : public PtyPeer {
protected:
    void SetUp() override {
        PtyPeer::SetUp();
        OpenSlave();
    }

    // True when nothing more arrives within a fifth of a second.
    bool LineIsQuiet() {
        pollfd pfd{master_, POLLIN, 0};
        return poll(&pfd, 1, 200) == 0;
    }
};

}  // namespace tarnix
