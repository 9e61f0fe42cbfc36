#include "ui/ViewExtensions.h"

#include <gtest/gtest.h>

#include "ui/LoadingView.h"

namespace orvo {
namespace {

TEST(LoadingOverlay, CoversTheViewWithACentredSpinnerAndComesOffAgain) {
    QWidget view;
    view.resize(300, 200);
    auto* child = new QWidget(&view);
    child->show();

    SpinnerView* spinner = enableLoadingView(&view);
    auto overlays = view.findChildren<LoadingView*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(overlays.size(), 1);
    EXPECT_EQ(overlays[0]->geometry(), view.rect());
    EXPECT_EQ(view.children().last(), overlays[0]); // above every other child
    EXPECT_EQ(spinner->parentWidget(), overlays[0]);
    EXPECT_EQ(spinner->geometry(), QRect(135, 85, 30, 30));
    EXPECT_TRUE(spinner->isAnimating());

    enableLoadingView(&view);
    disableLoadingView(&view);
    EXPECT_EQ(view.findChildren<LoadingView*>(Qt::FindDirectChildrenOnly).size(), 1);
    disableLoadingView(&view);
    EXPECT_TRUE(view.findChildren<LoadingView*>().isEmpty());
    disableLoadingView(&view); // nothing left: no effect
    EXPECT_EQ(view.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);
}

TEST(TextHeight, GrowsAsTheFrameNarrowsAndTheTextLengthens) {
    const QString paragraph(400, 'w');
    const QString spaced = QString("word ").repeated(80);
    const double oneLine = getHeight("short", QRectF(0, 0, 500, 10));
    EXPECT_GT(oneLine, 0);
    EXPECT_GT(getHeight(spaced, QRectF(0, 0, 200, 10)), getHeight(spaced, QRectF(0, 0, 600, 10)));
    EXPECT_GT(getHeight("a\nb\nc", QRectF(0, 0, 500, 10)), 2 * oneLine);
    EXPECT_GT(getHeight(paragraph, QRectF(0, 0, 100, 10)), oneLine);
}

} // namespace
} // namespace orvo
