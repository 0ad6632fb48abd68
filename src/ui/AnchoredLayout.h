#pragma once
// The main window's layout: every control keeps the place it was designed
// at (in twips, converted once), and when the window is enlarged a control
// anchored to the right or bottom edge moves with it, one anchored to both
// edges of a side grows with it. At the designed size every control stands
// exactly where it was designed; the grid takes whatever is added.

#include <QLayout>
#include <QList>
#include <QRect>
#include <QSize>

namespace ui {

class AnchoredLayout : public QLayout {
public:
    enum Anchor { Left = 1, Top = 2, Right = 4, Bottom = 8, All = Left | Top | Right | Bottom };

    // designed: the size of the parent the controls were placed in.
    AnchoredLayout(QWidget *parent, QSize designed);
    ~AnchoredLayout() override;

    // Takes a control at its present place (in the designed parent).
    void addAnchored(QWidget *widget, int anchors);
    // Takes every child widget of the parent not taken yet (but those apart), Left | Top.
    void addTheRest(const QList<QWidget *> &apart = {});

    // Where a control designed at `designed` goes in a parent of `size`.
    static QRect placed(QRect designed, int anchors, QSize designedParent, QSize size);

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override { return int(m_items.size()); }
    QSize sizeHint() const override { return m_designed; }
    QSize minimumSize() const override { return m_designed; }
    void setGeometry(const QRect &rect) override;

private:
    struct Item {
        QLayoutItem *item;
        QRect designed;
        int anchors;
    };
    QSize m_designed;
    QList<Item> m_items;
};

} // namespace ui
