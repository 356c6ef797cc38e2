#include <iostream>
#include <string_view>
#include <vector>

#include "Verbs.h"

int main(int argc, char **argv)
{
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kesmarctl::run(args, &kesmarctl::openDesktop, std::cout, std::cerr);
}
