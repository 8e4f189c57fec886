// The recorder program: the application object does all the work.
#include "trennick/app/kiv_app.h"

#include <QApplication>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    trennick::CKivApp app(std::move(args), argv[0]);
    return app.Run();
}
