#pragma once
// The main window's controls, found by their object names as a user's tools
// (or an accessibility reader) would find them: tests press, type and read
// through these, never through the window's members.

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>

#include "ui/depthfield.h"
#include "ui/paintbox.h"

struct Controls {
    explicit Controls(QWidget& window)
        : MainMenu1(find<QMenuBar>(window, "MainMenu1")), K1(find<QMenu>(window, "K1")),
          BmpFileOpen(find<QAction>(window, "BmpFileOpen")),
          SUFOut(find<QAction>(window, "SUFOut")), Exit1(find<QAction>(window, "Exit1")),
          EditMenu(find<QMenu>(window, "EditMenu")),
          UndoAction(find<QAction>(window, "UndoAction")),
          RedoAction(find<QAction>(window, "RedoAction")), KH1(find<QMenu>(window, "KH1")),
          K2(find<QAction>(window, "K2")), BmpShow(find<PaintBox>(window, "BmpShow")),
          ShowGraph(find<PaintBox>(window, "ShowGraph")),
          InitPaMax(find<QPushButton>(window, "InitPaMax")),
          SUFOutButton(find<QPushButton>(window, "SUFOutButton")),
          CovertLevel(find<QSlider>(window, "CovertLevel")),
          PaMaxBar(find<QSlider>(window, "PaMaxBar")), ModeA(find<QRadioButton>(window, "ModeA")),
          ModeB(find<QRadioButton>(window, "ModeB")),
          ShapeModeA(find<QRadioButton>(window, "ShapeModeA")),
          ShapeModeB(find<QRadioButton>(window, "ShapeModeB")),
          ShapeModeC(find<QRadioButton>(window, "ShapeModeC")), UV(find<QCheckBox>(window, "UV")),
          Shade(find<QCheckBox>(window, "Shade")), ObjName(find<QLineEdit>(window, "ObjName")),
          AtrName(find<QLineEdit>(window, "AtrName")), Size(find<QLineEdit>(window, "Size")),
          MaxHeight(find<QLineEdit>(window, "MaxHeight")),
          PolygoneDepth(find<DepthField>(window, "PolygoneDepth")),
          PolygoneCount(find<QLabel>(window, "PolygoneCount")) {}

    QMenuBar* MainMenu1;
    QMenu* K1;
    QAction* BmpFileOpen;
    QAction* SUFOut;
    QAction* Exit1;
    QMenu* EditMenu;
    QAction* UndoAction;
    QAction* RedoAction;
    QMenu* KH1;
    QAction* K2;
    PaintBox* BmpShow;
    PaintBox* ShowGraph;
    QPushButton* InitPaMax;
    QPushButton* SUFOutButton;
    QSlider* CovertLevel;
    QSlider* PaMaxBar;
    QRadioButton* ModeA;
    QRadioButton* ModeB;
    QRadioButton* ShapeModeA;
    QRadioButton* ShapeModeB;
    QRadioButton* ShapeModeC;
    QCheckBox* UV;
    QCheckBox* Shade;
    QLineEdit* ObjName;
    QLineEdit* AtrName;
    QLineEdit* Size;
    QLineEdit* MaxHeight;
    DepthField* PolygoneDepth;
    QLabel* PolygoneCount;

  private:
    // A missing control is a test failure, not a crash later.
    template <typename T> static T* find(QWidget& window, const char* name) {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
};
