#pragma once

#include <QAbstractButton>
#include <QRectF>
#include <QString>
#include <QWidget>

#include "ui/SpinnerView.h"

// Conveniences on views and buttons. Main thread.
namespace orvo {

// Covers view with a LoadingView above all its children, with a running 30 x 30 spinner in
// the middle. Returns the spinner.
SpinnerView* enableLoadingView(QWidget* view);

// Removes the first LoadingView child of view, if any.
void disableLoadingView(QWidget* view);

// Height that text needs in a plain multi-line text area of the frame's width.
double getHeight(const QString& text, const QRectF& frame);

// Styles a button as an entry of a record's actions menu.
void setupForMenu(QAbstractButton* button, const QString& title);

} // namespace orvo
