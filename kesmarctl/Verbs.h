#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string_view>

#include "Backend.h"

namespace kesmarctl {

// Exit statuses, each meaning one thing.
enum Status : int {
    done = 0,   // the command was carried out
    failed = 1, // no kesmar window, more than one, or it stopped answering
    misuse = 2, // an unknown command, or a bad argument; nothing was touched
};

// Runs the command in args (the program's arguments without its name). A
// misuse is found before openDesktop is called.
int run(std::span<const std::string_view> args,
        const std::function<std::unique_ptr<Desktop>()> &openDesktop, std::ostream &out,
        std::ostream &err);

} // namespace kesmarctl
