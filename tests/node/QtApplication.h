// SPDX-License-Identifier: Apache-2.0
// Panels need a Qt application; the tests make one, once, that lives as long as the process.
#pragma once

#include <QApplication>

namespace NodeTests {

inline void ensureQtApplication() {
    if (QApplication::instance()) return;
    static int argc = 1;
    static char name[] = "node_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

}  // namespace NodeTests
