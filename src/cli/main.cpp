#include <clocale>
#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
    // Dates in logs follow the user's locale, as in the desktop application.
    std::setlocale(LC_TIME, "");
    return qv::cli::RunCli(argc, argv, std::cout, std::cerr);
}
