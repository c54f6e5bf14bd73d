#include "toolkit/ReportWindow.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

ReportWindow::ReportWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(this);
    layout->addWidget(caption_);
    holder_ = new QWidget(this);
    holder_->setMinimumSize(320, 160);
    holder_->installEventFilter(this);
    layout->addWidget(holder_, 3);
    table_ = new QTableWidget(this);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(table_, 2);
    buttons_ = new QWidget(this);
    auto* row = new QHBoxLayout(buttons_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch();
    layout->addWidget(buttons_);
    resize(760, 560);
    FitGraph();
}

QPushButton* ReportWindow::AddButton(const QString& text) {
    auto* button = new QPushButton(text, buttons_);
    buttons_->layout()->addWidget(button);
    return button;
}

bool ReportWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == holder_ && event->type() == QEvent::Resize) {
        if (FitGraph() && OnGraphResized) OnGraphResized();
    }
    return QWidget::eventFilter(watched, event);
}

bool ReportWindow::FitGraph() {
    const QSize size = holder_->size().expandedTo(holder_->minimumSize());
    if (graph_ && graph_->size() == size) return false;
    delete graph_;
    graph_ = new PaintBox(holder_, 0, 0, size.width(), size.height());
    graph_->setFont(font());
    graph_->Canvas().Font = font();
    graph_->show();
    return true;
}
