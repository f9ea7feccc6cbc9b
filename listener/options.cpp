#include "startup.h"

#include <algorithm>

Options readOptions(const std::vector<std::string>& args) {
    auto present = [&](const char* option) {
        return std::find(args.begin(), args.end(), option) != args.end();
    };
    Options options;
    options.optionAlias = present("--option-alias");
    options.selfTest = present("--self-test");
    options.record = present("--record");
    auto bindingsFlag = std::find(args.begin(), args.end(), "--bindings");
    if (bindingsFlag != args.end() && std::next(bindingsFlag) != args.end()) {
        options.bindingsText = &*std::next(bindingsFlag);
    }
    return options;
}
