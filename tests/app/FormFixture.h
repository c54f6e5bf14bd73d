// A window built offscreen on the simulated audio device, with the application object's dialogs
// and message boxes answered by the test and every text shown recorded.
#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <memory>
#include <vector>

#include "audio/SimulatedWaveAudio.h"
#include "common/Blocks.h"
#include "form/TFormMain.h"
#include "toolkit/AppServices.h"

struct ShownMessage {
    QString text;
    QString caption;
};

class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AppServices& app = AppServices::Instance();
        app.MessageBox = [this](const QString& text, const QString& caption) {
            messages.push_back({text, caption});
        };
        app.Confirm = [this](const QString& text) {
            confirmations << text;
            return confirmAnswer;
        };
        app.OpenFileName = [this](const QString& filter) {
            filters << filter;
            return openName;
        };
        app.SaveFileName = [this](const QString& filter) {
            filters << filter;
            return saveName;
        };
        app.StartProgram = [this](const QString& program, const QStringList& args) {
            started << (program + " " + args.join(' '));
        };
        app.FileExists = [](const QString& path) { return QFileInfo(path).isFile(); };
        audio = std::make_unique<SimulatedWaveAudio>();
        if (createForm) form = std::make_unique<TFormMain>(audio.get());
    }
    void TearDown() override {
        form.reset();
        blocks::FailHook = nullptr;
        AppServices::Instance().UseRealServices();
    }
    // Delivers the posted device messages and timer events, and destroys the retired device
    // objects as the application's event loop does.
    static void Pump() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    QRgb Pixel(PaintBox* box, int x, int y) { return box->Canvas().Pixel(x, y); }

    bool createForm = true;
    std::unique_ptr<SimulatedWaveAudio> audio;
    std::unique_ptr<TFormMain> form;
    std::vector<ShownMessage> messages;
    QStringList confirmations, filters, started;
    Answer confirmAnswer = Answer::Yes;
    QString openName, saveName;
};
