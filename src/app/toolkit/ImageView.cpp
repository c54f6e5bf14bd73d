#include "toolkit/ImageView.h"

#include <QPainter>

ImageView::ImageView(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void ImageView::Refresh() {
    if (image_.size() != size()) image_ = QImage(size(), QImage::Format_RGB32);
    image_.fill(Qt::black);
    if (OnRender && !image_.isNull()) OnRender(image_);
    update();
}

void ImageView::resizeEvent(QResizeEvent*) { Refresh(); }

void ImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}
