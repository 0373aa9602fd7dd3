#include "app/run_state.h"

TagloomOptions Options;
std::string Src;
std::string Dst;
std::int32_t filesFound = 0;
std::int32_t filesChecked = 0;
std::int32_t filesUpdated = 0;
std::uint8_t* copyBuffer = nullptr;

void resetRunState() {
    Options = TagloomOptions{};
    Src.clear();
    Dst.clear();
    filesFound = filesChecked = filesUpdated = 0;
    setTraceMask(0);
}
