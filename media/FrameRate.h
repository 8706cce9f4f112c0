// Frame rates as exact fractions, so that 30000/1001 reaches a container
// as it was asked for rather than as 29.97 rounded.
//
// Threads: any; no shared state.
#pragma once

#include <string>

namespace vortigo {

struct FrameRate {
    int num = 0; // frames ...
    int den = 1; // ... per this many seconds
    bool valid() const { return num > 0 && den > 0; }
    // The whole frames a second a project stores: at least 1.
    int rounded() const;
    bool operator==(const FrameRate&) const = default;
};

// A rate of at least one frame a second written as a whole number ("25"),
// a fraction ("30000/1001") or a decimal ("12.5"). A decimal of two or
// three places that rounds a television rate (29.97, 23.976, 59.94) is
// read as that rate, N x 1000/1001. False for anything else.
bool parseFrameRate(const std::string& text, FrameRate& rate);

} // namespace vortigo
