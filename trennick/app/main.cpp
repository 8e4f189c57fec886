// The recorder program: the application object does all the work.
#include "trennick/app/program.h"

#include <QApplication>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    return trennick::RunRecorderProgram(args, argv[0]);
}
