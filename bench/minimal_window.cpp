// The start-up benchmark's baseline: the least a Qt Widgets program does to
// show a window. It writes "shown <steady clock in ns>" to the result file when
// its window is shown, then ends.
//
//   velmoor_minimal_window <result file>

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Notes the moment its window is shown and ends the program after it.
class ShownWatch : public QObject {
public:
    ShownWatch(QObject* window, std::string resultPath) : m_window(window), m_resultPath(std::move(resultPath)) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (object == m_window && event->type() == QEvent::Show && !m_seen) {
            m_seen = true;
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::ofstream(m_resultPath) << "shown " << std::chrono::nanoseconds(now).count() << "\n";
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        }
        return false;
    }

private:
    QObject* m_window;
    std::string m_resultPath;
    bool m_seen = false;
};

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc != 2) return 2;
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Velmoor");
    window.resize(800, 600);
    ShownWatch watch(&window, argv[1]);
    window.installEventFilter(&watch);
    window.show();
    return QApplication::exec();
}
