// LumoDebWin: the trace viewer. Publishes a window of class "LUMODEBWIN-CLASS"
// on the local bus and shows each line that arrives by WM_COPYDATA in a list.
// With --print it runs without a window and writes each line to standard output.

#include "common/fixed_text.h"
#include "platform/local_bus.h"
#include "platform/message_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QListWidget>
#include <QMainWindow>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

constexpr const char* kClassName = "LUMODEBWIN-CLASS";
constexpr const char* kTitle = "LumoDebWin";
constexpr int kMaxListLines = 100000;  // the oldest lines go first

// The text of a WM_COPYDATA: up to its first terminator, never past its size.
std::string lineOf(LPARAM lParam) {
    const auto* data = reinterpret_cast<const platform::COPYDATASTRUCT*>(lParam);
    if (data == nullptr || data->lpData == nullptr) {
        return {};
    }
    const char* text = static_cast<const char*>(data->lpData);
    return fixed_text::Read(text, data->cbData);
}

// The bus endpoint: hands each received line to `onLine`.
class ViewerWindow : public platform::MessageWindow {
public:
    std::function<void(const std::string&)> onLine;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == platform::WM_COPYDATA) {
            if (onLine) {
                onLine(lineOf(lParam));
            }
            return 1;
        }
        if (msg == platform::WM_CLOSE) {
            QCoreApplication::quit();
            return 0;
        }
        return MessageWindow::WindowProc(msg, wParam, lParam);
    }
};

int runPrinting(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ViewerWindow window;
    window.onLine = [](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        if (line.empty() || line.back() != '\n') {
            std::fputc('\n', stdout);
        }
        std::fflush(stdout);
    };
    if (!window.create(kClassName, kTitle)) {
        std::fprintf(stderr, "LumoDebWin: cannot publish the viewer window\n");
        return 1;
    }
    return app.exec();
}

int runWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow main;
    main.setWindowTitle(kTitle);
    auto* list = new QListWidget(&main);
    list->setUniformItemSizes(true);
    main.setCentralWidget(list);
    main.resize(800, 500);
    ViewerWindow window;
    window.onLine = [list](const std::string& line) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        if (list->count() >= kMaxListLines) {
            delete list->takeItem(0);
        }
        list->addItem(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
        list->scrollToBottom();
    };
    if (!window.create(kClassName, kTitle)) {
        std::fprintf(stderr, "LumoDebWin: cannot publish the viewer window\n");
        return 1;
    }
    main.show();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--print") == 0) {
            return runPrinting(argc, argv);
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: LumoDebWin [--print]\n"
                        "Shows the trace lines sent to the window class %s;\n"
                        "--print writes them to standard output instead.\n",
                        kClassName);
            return 0;
        }
    }
    return runWindow(argc, argv);
}
