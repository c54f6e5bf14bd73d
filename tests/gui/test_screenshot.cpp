// Renders the whole window to a PNG beside the test binary, so a person can look at it.
#include <QDir>
#include <QPixmap>

#include "FormFixture.h"

TEST_F(FormTest, WindowRendersToPng) {
    form->show();
    Pump();
    const QPixmap shot = form->grab();
    EXPECT_EQ(shot.size(), QSize(800, 600));
    const QString path = QDir::current().filePath("sonabi-window.png");
    EXPECT_TRUE(shot.save(path));
}
