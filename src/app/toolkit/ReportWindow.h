// A window of its own beside the main one, for a report: a picture that follows the window's
// size, a table under it and a row of buttons. The picture is a paint box, so that what it shows
// is a canvas tests read pixel by pixel; when the window is resized a box of the new size takes
// its place and OnGraphResized draws it again.
#pragma once
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <functional>

#include "toolkit/Controls.h"

class ReportWindow : public QWidget {
    Q_OBJECT
  public:
    // owner: the window it belongs to, which closes it with itself; the report is a top-level
    // window and draws nothing into its owner.
    explicit ReportWindow(QWidget* owner);

    PaintBox* Graph() const { return graph_; }
    QTableWidget* Table() const { return table_; }
    QLabel* Caption() const { return caption_; }  // a line above the picture
    // A button at the end of the row under the table.
    QPushButton* AddButton(const QString& text);
    // The picture's box was replaced by one of the new size: draw it.
    std::function<void()> OnGraphResized;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // A box the size of its holder, when it is another size; whether it made one.
    bool FitGraph();

    QWidget* holder_;
    PaintBox* graph_ = nullptr;
    QTableWidget* table_;
    QLabel* caption_;
    QWidget* buttons_;
};
