#pragma once
// A captioned frame drawn the classic Windows way: the caption sits on the top
// edge and the etched border runs behind it, so children placed just below
// the caption (as the window's layout does) are not covered by a title bar.

#include <QWidget>

namespace ui {

class FrameControl : public QWidget {
    Q_OBJECT
public:
    explicit FrameControl(const QString &title, QWidget *parent = nullptr);
    QString title() const { return m_title; }
    void setTitle(const QString &title);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_title;
};

} // namespace ui
