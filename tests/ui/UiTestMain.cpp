#include <QApplication>
#include <QTest>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/UiTest.h"

namespace {
std::map<std::string, UiTestFactory>& Registry() {
    static std::map<std::string, UiTestFactory> registry;
    return registry;
}
}  // namespace

int RegisterUiTest(const char* name, UiTestFactory factory) {
    Registry()[name] = factory;
    return 0;
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);

    std::vector<std::string> names;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (Registry().count(argv[i])) names.push_back(argv[i]);
        else rest.push_back(argv[i]);
    }
    if (names.empty()) {
        for (const auto& [name, factory] : Registry()) names.push_back(name);
    }
    int failed = 0;
    for (const std::string& name : names) {
        std::unique_ptr<QObject> test(Registry()[name]());
        failed += QTest::qExec(test.get(), static_cast<int>(rest.size()), rest.data());
    }
    return failed == 0 ? 0 : 1;
}
