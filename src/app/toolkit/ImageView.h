// A view drawn as a whole picture at whatever size it is given: the separate, resizable windows
// (the tuner) draw into its image on every resize and whenever their owner asks, and the widget
// shows the image as it stands, so that tests can read its pixels.
#pragma once
#include <QImage>
#include <QWidget>
#include <functional>

class ImageView : public QWidget {
    Q_OBJECT
  public:
    explicit ImageView(QWidget* parent = nullptr);
    // Draws the whole image, which has the widget's size and is cleared to black before each call.
    std::function<void(QImage& image)> OnRender;
    void Refresh();
    const QImage& Image() const { return image_; }

  protected:
    void resizeEvent(QResizeEvent*) override;
    void paintEvent(QPaintEvent*) override;

  private:
    QImage image_;
};
