#include "shell/WindowPlacement.h"

#include <vector>

#include "shell/IniFile.h"

const char* const kDefaultPlacementValue = "-10000,-10000,800,600,0";

namespace {

std::vector<std::string> SplitCommas(const std::string& value) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t comma = value.find(',', start);
        parts.push_back(value.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

// C++ integer division already rounds toward zero.
int Centre(int screen, int window) { return (screen - window) / 2; }

}  // namespace

TWindowPlacement ParseWindowPlacement(const std::string& value) {
    TWindowPlacement p;
    std::vector<std::string> parts = SplitCommas(value);
    if (parts.size() < 5) return p;
    const int defaults[5] = {-10000, -10000, 0, 0, 0};
    int v[5];
    for (int i = 0; i < 5; ++i) {
        if (!ParseInteger(parts[i], v[i])) v[i] = defaults[i];
    }
    return {v[0], v[1], v[2], v[3], v[4]};
}

TWindowPlacement ResolveWindowPlacement(const std::string& key, const std::string& stored, int screenWidth,
                                        int screenHeight) {
    TWindowPlacement p = ParseWindowPlacement(stored);
    const auto centred = [&](int w, int h, int state) {
        return TWindowPlacement{Centre(screenWidth, w), Centre(screenHeight, h), w, h, state};
    };
    if (p.left == -10000 && p.top == -10000) {
        if (key == "LogForm") return {Centre(screenWidth, 800), screenHeight - 150 - 64, 800, 150, 0};
        if (key == "DbInputForm" || key == "KoumokuSetup2Form") return centred(360, 360, 0);
        return centred(800, 600, 0);
    }
    // Maximised: the normal bounds behind it are 800 by 600 centred.
    if (p.state == 2) return centred(800, 600, 2);
    if ((p.width < 10 && p.height < 10) || p.left < -p.width || p.left > screenWidth || p.top < -p.height ||
        p.top > screenHeight) {
        return centred(800, 600, 0);
    }
    return p;
}

void ResolveWindowPosition(const std::string& stored, int windowWidth, int windowHeight, int screenWidth,
                           int screenHeight, int& left, int& top) {
    std::vector<std::string> parts = SplitCommas(stored);
    left = 0;
    top = 0;
    if (parts.size() >= 2) {
        if (!ParseInteger(parts[0], left)) left = 0;
        if (!ParseInteger(parts[1], top)) top = 0;
    }
    if (left == -10000 && top == -10000) {
        left = Centre(screenWidth, windowWidth);
        top = Centre(screenHeight, windowHeight);
    }
}

std::string FormatWindowPlacement(const TWindowPlacement& p) {
    return std::to_string(p.left) + "," + std::to_string(p.top) + "," + std::to_string(p.width) + "," +
           std::to_string(p.height) + "," + std::to_string(p.state);
}
