#pragma once
// Drives the window's modal dialogs in tests: the next dialog the window
// opens is shown without a nested event loop and handed to a test function,
// which clicks it as the user would; whatever it leaves open is closed with
// "取消" semantics (reject) afterwards.

#include "ui/ModalDialogs.h"

#include <QDialog>
#include <QTest>
#include <functional>

template <typename D>
class DialogDriver {
public:
    explicit DialogDriver(std::function<void(D &)> act)
    {
        ui::setModalRunner([this, act](QDialog &dialog) {
            auto *d = qobject_cast<D *>(&dialog);
            if (!d)
                return;
            ++opened;
            d->show();
            if (!QTest::qWaitForWindowExposed(d))
                qWarning("dialog not exposed");
            act(*d);
            stayedOpen = d->isVisible();
            if (stayedOpen)
                d->reject();
        });
    }
    ~DialogDriver() { ui::setModalRunner({}); }
    int opened = 0;
    bool stayedOpen = false;
};
