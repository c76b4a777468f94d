// Where a popover goes: below its anchor, above it when a bottom panel leaves
// no room below, and always inside the screen's available area.
#include <QCoreApplication>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

#include "NSPopover.h"
#include "NSScreen.h"
#include "NSViewController.h"

namespace {

const QSize kContent(300, 400);
const QRect kTopPanelArea(0, 28, 1920, 1052);     // panel across the top
const QRect kBottomPanelArea(0, 0, 1920, 1040);   // panel across the bottom

int arrowX(const NSPopoverPlacement& placed)
{
    return placed.frame.left() + placed.arrowCenter;
}

TEST(PopoverPlacementTest, BelowATopPanelAboveABottomOne)
{
    // The pointer on a top panel: below it, pushed down out of the panel, arrow on the pointer.
    const NSPopoverPlacement top = NSPopover::placement(kContent, QRect(1000, 12, 1, 1), kTopPanelArea, NSRectEdgeMinY);
    EXPECT_EQ(top.edge, NSRectEdgeMinY);
    EXPECT_EQ(top.frame.top(), 28);
    EXPECT_EQ(arrowX(top), 1000);
    EXPECT_GT(top.frame.height(), kContent.height());

    // The pointer on a bottom panel: above it, ending where the panel starts.
    const NSPopoverPlacement bottom =
        NSPopover::placement(kContent, QRect(1000, 1060, 1, 1), kBottomPanelArea, NSRectEdgeMinY);
    EXPECT_EQ(bottom.edge, NSRectEdgeMaxY);
    EXPECT_EQ(bottom.frame.bottom(), kBottomPanelArea.bottom());
    EXPECT_EQ(arrowX(bottom), 1000);
}

TEST(PopoverPlacementTest, BesideASidePanel)
{
    // The pointer on a side panel: beside the panel, arrow on the pointer, not below it.
    const QRect leftPanelArea(48, 0, 1872, 1080);
    const NSPopoverPlacement left = NSPopover::placement(kContent, QRect(20, 500, 1, 1), leftPanelArea, NSRectEdgeMinY);
    EXPECT_EQ(left.edge, NSRectEdgeMaxX);
    EXPECT_EQ(left.frame.left(), 48);
    EXPECT_EQ(left.frame.top() + left.arrowCenter, 500);
    const QRect rightPanelArea(0, 0, 1872, 1080);
    const NSPopoverPlacement right =
        NSPopover::placement(kContent, QRect(1900, 1070, 1, 1), rightPanelArea, NSRectEdgeMinY);
    EXPECT_EQ(right.edge, NSRectEdgeMinX);
    EXPECT_EQ(right.frame.right(), 1871);
    EXPECT_EQ(right.frame.bottom(), 1079);
}

TEST(PopoverPlacementTest, ClampedIntoTheAvailableArea)
{
    // At the right end of the panel the window stops at the screen's edge; the
    // arrow still points as near the anchor as the rounded corner allows.
    const NSPopoverPlacement right =
        NSPopover::placement(kContent, QRect(1915, 12, 1, 1), kTopPanelArea, NSRectEdgeMinY);
    EXPECT_EQ(right.frame.right(), kTopPanelArea.right());
    EXPECT_EQ(right.arrowCenter, right.frame.width() - NSPopover::kCornerRadius - NSPopover::kArrowWidth / 2);

    const NSPopoverPlacement left = NSPopover::placement(kContent, QRect(3, 12, 1, 1), kTopPanelArea, NSRectEdgeMinY);
    EXPECT_EQ(left.frame.left(), 0);

    // Taller than either side: the side with more room, kept on the screen.
    const QRect small(0, 0, 800, 500);
    const NSPopoverPlacement tall = NSPopover::placement(QSize(300, 480), QRect(400, 100, 1, 1), small, NSRectEdgeMinY);
    EXPECT_EQ(tall.edge, NSRectEdgeMinY);
    EXPECT_TRUE(small.contains(tall.frame));

    // Beside a row: to its right unless the screen ends there.
    const NSPopoverPlacement beside =
        NSPopover::placement(kContent, QRect(1700, 500, 200, 20), kTopPanelArea, NSRectEdgeMaxX);
    EXPECT_EQ(beside.edge, NSRectEdgeMinX);
    EXPECT_EQ(beside.frame.right(), 1699);
}

TEST(PopoverWindowTest, ShownWindowHostsItsContentWhereItWasPlaced)
{
    NSPopover popover;
    auto* content = new NSViewController;
    content->setFixedSize(260, 200);
    popover.setContentViewController(content);
    const QRect area = NSScreen::visibleFrame(NSScreen::mainScreen());
    const QRect anchor(area.right() - 5, area.top(), 1, 1);
    popover.showRelativeToRect(anchor, NSRectEdgeMinY);
    ASSERT_TRUE(popover.isShown());
    QWidget* window = popover.window();
    EXPECT_TRUE(NSPopover::isPopoverWindow(window->windowHandle()));
    EXPECT_NE(window->windowType(), Qt::Popup);
    EXPECT_TRUE(content->isVisible());
    EXPECT_EQ(window->geometry(),
              NSPopover::placement(QSize(260, 200), anchor, area, NSRectEdgeMinY).frame);
    EXPECT_TRUE(area.contains(window->geometry()));

    // The content grows: the window follows and stays on the screen.
    content->setFixedSize(260, 320);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->geometry().height(), NSPopover::placement(QSize(260, 320), anchor, area, NSRectEdgeMinY).frame.height());

    popover.performClose();
    EXPECT_FALSE(popover.isShown());
    EXPECT_FALSE(content->isVisible());
}

TEST(PopoverWindowTest, OnWaylandADetailIsAPopupOfItsPopover)
{
    // The compositor places top-level windows: the detail is tied to the popover it belongs to.
    NSPopover::setProgramPlacesWindowsForTesting(false);
    NSPopover popover;
    auto* content = new NSViewController;
    content->setFixedSize(260, 300);
    popover.setContentViewController(content);
    const QRect area = NSScreen::visibleFrame(NSScreen::mainScreen());
    popover.showRelativeToRect(QRect(area.center().x(), area.top(), 1, 1), NSRectEdgeMinY);
    EXPECT_EQ(popover.window()->windowType(), Qt::Tool);

    NSPopover detail;
    auto* detailContent = new NSViewController;
    detailContent->setFixedSize(200, 120);
    detail.setContentViewController(detailContent);
    const QPoint list = content->mapToGlobal(QPoint(10, 20));
    const QRect firstRow(list, QSize(240, 20));
    detail.showRelativeToRect(firstRow, NSRectEdgeMinX, content);
    QWidget* window = detail.window();
    ASSERT_TRUE(detail.isShown());
    EXPECT_EQ(window->windowType(), Qt::ToolTip);
    EXPECT_EQ(window->windowHandle()->transientParent(), popover.window()->windowHandle());
    EXPECT_TRUE(NSPopover::isPopoverWindow(window->windowHandle()));
    // Beside the row, to its left: not over the popover's list.
    EXPECT_LT(window->geometry().right(), firstRow.left());
    EXPECT_EQ(detail.shownEdge(), NSRectEdgeMinX);

    // Another row: the popup is placed there anew (a popup is placed as it maps).
    const QRect secondRow = firstRow.translated(0, 60);
    detail.showRelativeToRect(secondRow, NSRectEdgeMinX, content);
    EXPECT_TRUE(detail.isShown());
    EXPECT_EQ(window->geometry(), NSPopover::placement(QSize(200, 120), secondRow, area, NSRectEdgeMinX).frame);
    detail.performClose();
    popover.performClose();

    // Where the program places its windows, the detail stays a window of its own.
    NSPopover::setProgramPlacesWindowsForTesting(true);
    detail.showRelativeToRect(firstRow, NSRectEdgeMinX, content);
    EXPECT_EQ(window->windowType(), Qt::Tool);
    EXPECT_EQ(window->windowHandle()->transientParent(), nullptr);
    detail.performClose();
    NSPopover::setProgramPlacesWindowsForTesting(std::nullopt);
}

}  // namespace
