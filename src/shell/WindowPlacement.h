#pragma once

#include <string>

// Window placements as the settings file stores them under "WINDOW": five
// integers joined by commas, "left,top,width,height,state".

struct TWindowPlacement {
    int left = -10000;
    int top = -10000;
    int width = 0;
    int height = 0;
    int state = 0;  // 0 normal, 1 minimised, 2 maximised
    bool operator==(const TWindowPlacement&) const = default;
};

// The value read when nothing is stored.
extern const char* const kDefaultPlacementValue;  // "-10000,-10000,800,600,0"

// Parses a stored value. A part that is not a number gives -10000 for left
// and top and 0 for the others; fewer than five parts give all five defaults.
TWindowPlacement ParseWindowPlacement(const std::string& value);

// Where a window with placement key `key` opens, given the stored value and
// the screen size: the stored bounds when they are sensible, the window's
// default bounds when nothing is stored, 800 by 600 centred otherwise.
TWindowPlacement ResolveWindowPlacement(const std::string& key, const std::string& stored, int screenWidth,
                                        int screenHeight);

// Position-only form: left and top of `stored` (a non-number part, or fewer
// than two parts, gives 0); both -10000 means centre a window of the given
// size. Size and state are the caller's.
void ResolveWindowPosition(const std::string& stored, int windowWidth, int windowHeight, int screenWidth,
                           int screenHeight, int& left, int& top);

std::string FormatWindowPlacement(const TWindowPlacement& p);
