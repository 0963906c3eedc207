#pragma once
// The row's icon: shows an image scaled into its square and, like a control that sends
// its action on mouse-up, emits clicked() when a left click is released over it.
#include <QImage>
#include <QLabel>

class OWImageView : public QLabel {
    Q_OBJECT

  public:
    explicit OWImageView(QWidget* parent = nullptr);

    // A null image shows nothing.
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void render();
    QImage image_;
};
