// effect-player SCRIPT.json: plays a script of driver calls against the driver's own code with a
// virtual clock and the virtual wheel, and prints the wheel's reports as CSV.
#include <cstdio>
#include <exception>
#include <iostream>

#include "tools/effect-player/player.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: effect-player SCRIPT.json\n";
        return effect_player::kExitBadScript;
    }
    try {
        const int code = effect_player::RunScriptFile(argv[1], std::cout, std::cerr);
        std::cout.flush();
        return code;
    } catch (const std::exception& e) {
        // Only running out of memory gets here; the script itself was fine.
        std::cerr << "effect-player: " << e.what() << "\n";
        return 1;
    }
}
