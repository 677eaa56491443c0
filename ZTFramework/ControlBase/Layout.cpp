#include "ZTFramework/ControlBase/Layout.h"

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Resources/ControlDescriptor.h"
#include "ZTFramework/Resources/LayoutDescriptor.h"
#include "ZTFramework/Resources/SkinDescriptor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <set>
#include <string>
#include <vector>

namespace ZT {
namespace {

constexpr int kX = 0;
constexpr int kY = 1;
// "Children" references lay out the tree below a control provisionally; the skin parser already
// refuses deeper nesting, this only keeps a hand-made tree from recursing without end.
constexpr int kMaxNesting = 64;

using Measure = LLayoutDescriptor::Measure;

const LLayoutDescriptor::Axis& AxisOf(const LLayoutDescriptor& layout, int axis)
{
    return axis == kX ? layout.mX : layout.mY;
}

bool IsGiven(const Measure& measure) { return measure.mRel || measure.mAbs; }

int ExtentOf(SizeT size, int axis) { return axis == kX ? size.mWidth : size.mHeight; }
int StartOf(const Rect& rect, int axis) { return axis == kX ? rect.mLeft : rect.mTop; }
int LengthOf(const Rect& rect, int axis) { return axis == kX ? rect.GetWidth() : rect.GetHeight(); }

int Round(double value)
{
    constexpr double kLimit = 1 << 28;   // far beyond any screen; keeps lround defined
    return static_cast<int>(std::lround(std::clamp(value, -kLimit, kLimit)));
}

// A reference span on one axis: where it starts and how long it is, in the parent's coordinates.
struct Span {
    int mOrigin = 0;
    int mExtent = 0;
};

// One control (or, before controls exist, one descriptor) being placed among its siblings.
struct Entry {
    enum class State { Waiting, Placing, Placed };
    enum class SizeState { Unknown, Computing, Known };

    const LControlDescriptor* mDescriptor = nullptr;   // null: a control made by code, left where it is
    LControl* mControl = nullptr;                      // null when only descriptors are placed
    State mState = State::Waiting;
    SizeState mSizeState[2] = {SizeState::Unknown, SizeState::Unknown};
    int mSize[2] = {0, 0};
    bool mDocked[2] = {false, false};
    int mDockStart[2] = {0, 0};
    Rect mRect;

    [[nodiscard]] bool IsShown() const { return mControl ? mControl->GetVisibleFlag() : mDescriptor->mIsVisible; }
    [[nodiscard]] std::string Name() const
    {
        return (mControl ? mControl->GetName() : mDescriptor->mName).ToUTF8();
    }
};

// The children of one parent, placed together because they may refer to each other.
struct Group {
    SizeT mParentSize;
    int mOrigin[2] = {0, 0};   // the parent's origin in the client area's coordinates
    bool mSiblingsKnown = true;
    std::vector<Entry> mEntries;
    int mFreeStart[2] = {0, 0};
    int mFreeEnd[2] = {0, 0};
};

class CLayoutPass {
public:
    CLayoutPass(const Rect& client, SizeT screen, ITextMeasurer* measurer, bool report)
        : mClient(client), mScreen(screen), mMeasurer(measurer), mReport(report)
    {
    }

    Group MakeGroup(const LControl& parent, SizeT parentSize, const int origin[2]) const
    {
        Group group = StartGroup(parentSize, origin);
        for (LControl* child : parent.GetChildren()) {
            Entry entry;
            entry.mControl = child;
            entry.mDescriptor = child->GetDescriptor().Get();
            if (!entry.mDescriptor || !entry.mDescriptor->mLayout) {
                entry.mDescriptor = nullptr;
                entry.mRect = child->GetBounds();
                entry.mState = Entry::State::Placed;
            }
            group.mEntries.push_back(entry);
        }
        return group;
    }

    Group MakeGroup(const LSkinDescriptor* skin, SizeT parentSize, const int origin[2]) const
    {
        Group group = StartGroup(parentSize, origin);
        if (!skin)
            return group;
        for (LControlDescriptor* child : skin->mChildren) {
            Entry entry;
            entry.mDescriptor = child;
            group.mEntries.push_back(entry);
        }
        return group;
    }

    // Places every entry, in LayoutOrder so that docking takes the free span in that order.
    void PlaceGroup(Group& group)
    {
        std::vector<std::size_t> order(group.mEntries.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        auto key = [&group](std::size_t index) {
            const LControlDescriptor* descriptor = group.mEntries[index].mDescriptor;
            const auto& layoutOrder = descriptor ? descriptor->mLayoutOrder : std::nullopt;
            return std::pair{layoutOrder ? 0 : 1, layoutOrder.value_or(0)};
        };
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
        for (const std::size_t index : order)
            Place(group, group.mEntries[index]);
    }

    // The size the window's limits take from a measure, or nothing when the skin gives none.
    std::optional<int> Limit(Group& group, Entry& entry, int axis, const Measure& measure)
    {
        if (!IsGiven(measure))
            return std::nullopt;
        return Evaluate(group, entry, axis, measure, false);
    }

    void Place(Group& group, Entry& entry)
    {
        if (entry.mState != Entry::State::Waiting)
            return;
        entry.mState = Entry::State::Placing;
        int start[2] = {0, 0};
        for (const int axis : {kX, kY}) {
            const int size = SizeOf(group, entry, axis);
            const LLayoutDescriptor::Axis& layout = AxisOf(*entry.mDescriptor->mLayout, axis);
            if (entry.mDocked[axis]) {
                start[axis] = entry.mDockStart[axis];
                continue;
            }
            const int position = Evaluate(group, entry, axis, layout.mPosition, true);
            start[axis] = position - Round(layout.mPlacementAnchor.value_or(0.0) * size);
        }
        entry.mRect = {start[kX], start[kY], start[kX] + entry.mSize[kX], start[kY] + entry.mSize[kY]};
        entry.mState = Entry::State::Placed;
    }

private:
    Group StartGroup(SizeT parentSize, const int origin[2]) const
    {
        Group group;
        group.mParentSize = parentSize;
        group.mOrigin[kX] = origin[kX];
        group.mOrigin[kY] = origin[kY];
        group.mFreeEnd[kX] = std::max(0, parentSize.mWidth);
        group.mFreeEnd[kY] = std::max(0, parentSize.mHeight);
        return group;
    }

    int SizeOf(Group& group, Entry& entry, int axis)
    {
        if (entry.mSizeState[axis] == Entry::SizeState::Known)
            return entry.mSize[axis];
        entry.mSizeState[axis] = Entry::SizeState::Computing;
        const LLayoutDescriptor::Axis& layout = AxisOf(*entry.mDescriptor->mLayout, axis);
        const bool docked = layout.mIsDocked && entry.IsShown();

        int size = 0;
        if (docked && !IsGiven(layout.mSize))
            size = group.mFreeEnd[axis] - group.mFreeStart[axis];
        else if (IsGiven(layout.mSize))
            size = Evaluate(group, entry, axis, layout.mSize, false);
        if (axis == kY && entry.mDescriptor->mTextOverflowY == LControlDescriptor::TextOverflow::Expand && mMeasurer &&
            entry.mControl && entry.mSizeState[kX] != Entry::SizeState::Computing)
            size = mMeasurer->MeasureTextHeight(*entry.mControl, SizeOf(group, entry, kX));
        if (const auto maximum = Limit(group, entry, axis, layout.mMaxSize))
            size = std::min(size, *maximum);
        if (const auto minimum = Limit(group, entry, axis, layout.mMinSize))
            size = std::max(size, *minimum);
        size = std::max(size, 0);

        if (docked) {
            size = std::min(size, group.mFreeEnd[axis] - group.mFreeStart[axis]);
            entry.mDocked[axis] = true;
            if (layout.mPlacementAnchor.value_or(0.0) < 0.5) {
                entry.mDockStart[axis] = group.mFreeStart[axis];
                group.mFreeStart[axis] += size;
            } else {
                group.mFreeEnd[axis] -= size;
                entry.mDockStart[axis] = group.mFreeEnd[axis];
            }
        }
        entry.mSize[axis] = size;
        entry.mSizeState[axis] = Entry::SizeState::Known;
        return size;
    }

    // A position: origin + Rel * extent + Abs; a size: Rel * extent + Abs.
    int Evaluate(Group& group, Entry& entry, int axis, const Measure& measure, bool isPosition)
    {
        const double pixels = measure.mAbs.value_or(0);
        // Without a fraction a size needs no reference; skipping it avoids needless cycles.
        if (!measure.mRel && !isPosition)
            return Round(pixels);
        const Span span = Reference(group, entry, axis, measure.mToControl, isPosition);
        return Round((isPosition ? span.mOrigin : 0) + measure.mRel.value_or(0.0) * span.mExtent + pixels);
    }

    Span Reference(Group& group, Entry& entry, int axis, const WString& target, bool isPosition)
    {
        const Span parent{0, ExtentOf(group.mParentSize, axis)};
        const std::string name = target.ToUTF8();
        const int clientOrigin = StartOf(mClient, axis) - group.mOrigin[axis];
        if (name.empty() || name == "Parent")
            return parent;
        if (name == "Client" || name == "Active Window")
            return {clientOrigin, LengthOf(mClient, axis)};
        if (name == "Screen")
            return {clientOrigin, ExtentOf(mScreen, axis)};
        if (name == "Self") {
            const int measured = isPosition ? axis : 1 - axis;
            if (entry.mSizeState[measured] == Entry::SizeState::Computing) {
                Report("control \"" + entry.Name() + "\" has a size that depends on itself through \"Self\"; "
                       "measured against its parent instead");
                return parent;
            }
            return {0, SizeOf(group, entry, measured)};
        }
        if (name == "Children")
            return {0, ChildrenExtent(group, entry, axis)};
        if (!group.mSiblingsKnown)
            return parent;

        Entry* sibling = nullptr;
        for (auto it = group.mEntries.rbegin(); it != group.mEntries.rend() && !sibling; ++it) {
            if (&*it != &entry && it->Name() == name)
                sibling = &*it;
        }
        if (!sibling) {
            Report("control \"" + entry.Name() + "\" is placed relative to \"" + name +
                   "\", which is not one of its siblings; measured against its parent instead");
            return parent;
        }
        if (sibling->mState == Entry::State::Placing) {
            Report("controls \"" + entry.Name() + "\" and \"" + name +
                   "\" are placed relative to each other in a cycle; measured against the parent instead");
            return parent;
        }
        Place(group, *sibling);
        return {StartOf(sibling->mRect, axis), LengthOf(sibling->mRect, axis)};
    }

    // How far the visible children reach on the axis, placed as if the control had no extent
    // there (their fractions of it then count for nothing).
    int ChildrenExtent(const Group& group, const Entry& entry, int axis)
    {
        if (mNesting >= kMaxNesting)
            return 0;
        SizeT provisional;
        const int other = 1 - axis;
        const int otherExtent = entry.mSizeState[other] == Entry::SizeState::Known ? entry.mSize[other] : 0;
        (axis == kX ? provisional.mHeight : provisional.mWidth) = otherExtent;
        Group children = entry.mControl ? MakeGroup(*entry.mControl, provisional, group.mOrigin)
                                        : MakeGroup(entry.mDescriptor->mSkin.Get(), provisional, group.mOrigin);
        ++mNesting;
        PlaceGroup(children);
        --mNesting;
        int extent = 0;
        for (const Entry& child : children.mEntries) {
            if (child.IsShown())
                extent = std::max(extent, StartOf(child.mRect, axis) + LengthOf(child.mRect, axis));
        }
        return extent;
    }

    void Report(const std::string& problem)
    {
        if (mReport && mReported.insert(problem).second)
            DebugLine("Layout: " + problem);
    }

    Rect mClient;
    SizeT mScreen;
    ITextMeasurer* mMeasurer;
    bool mReport;
    int mNesting = 0;
    std::set<std::string> mReported;
};

void LayoutBelow(CLayoutPass& pass, LControl& control, const int origin[2])
{
    const Rect& bounds = control.GetBounds();
    Group group = pass.MakeGroup(control, SizeT{bounds.GetWidth(), bounds.GetHeight()}, origin);
    pass.PlaceGroup(group);
    for (Entry& entry : group.mEntries) {
        if (entry.mDescriptor)
            entry.mControl->SetBounds(entry.mRect);
    }
    for (Entry& entry : group.mEntries) {
        const int childOrigin[2] = {origin[kX] + entry.mRect.mLeft, origin[kY] + entry.mRect.mTop};
        LayoutBelow(pass, *entry.mControl, childOrigin);
    }
}

// A group holding only descriptor, placed in a parent of the given size with its siblings
// unknown.
Group AloneIn(const CLayoutPass& pass, const LControlDescriptor& descriptor, SizeT parentSize)
{
    const int origin[2] = {0, 0};
    Group group = pass.MakeGroup(static_cast<const LSkinDescriptor*>(nullptr), parentSize, origin);
    group.mSiblingsKnown = false;
    Entry entry;
    entry.mDescriptor = &descriptor;
    group.mEntries.push_back(entry);
    return group;
}

} // namespace

WindowSizeConstraints GetWindowSizeConstraints(const LControlDescriptor& descriptor, SizeT screen)
{
    WindowSizeConstraints constraints;
    if (!descriptor.mLayout)
        return constraints;
    CLayoutPass pass(Rect{0, 0, screen.mWidth, screen.mHeight}, screen, nullptr, true);
    Group group = AloneIn(pass, descriptor, screen);
    pass.PlaceGroup(group);
    Entry& entry = group.mEntries.front();
    constraints.mInitial = entry.mRect;

    const LLayoutDescriptor& layout = *descriptor.mLayout;
    const std::optional<int> minimum[2] = {pass.Limit(group, entry, kX, layout.mX.mMinSize),
                                           pass.Limit(group, entry, kY, layout.mY.mMinSize)};
    const std::optional<int> maximum[2] = {pass.Limit(group, entry, kX, layout.mX.mMaxSize),
                                           pass.Limit(group, entry, kY, layout.mY.mMaxSize)};
    constraints.mMinimum = {std::max(0, minimum[kX].value_or(0)), std::max(0, minimum[kY].value_or(0))};
    if (maximum[kX] || maximum[kY]) {
        // As in the layout, the minimum wins over a smaller maximum.
        constraints.mMaximum = SizeT{
            std::max(constraints.mMinimum.mWidth, maximum[kX].value_or(WindowSizeConstraints::kUnbounded)),
            std::max(constraints.mMinimum.mHeight, maximum[kY].value_or(WindowSizeConstraints::kUnbounded))};
    }
    return constraints;
}

void LayoutControlTree(LControl& root, const Rect& client, SizeT screen, ITextMeasurer* measurer)
{
    root.SetBounds(client);
    CLayoutPass pass(client, screen, measurer, true);
    const int origin[2] = {client.mLeft, client.mTop};
    LayoutBelow(pass, root, origin);
}

Rect GetInitialBounds(const LControlDescriptor& descriptor, SizeT parentSize)
{
    if (!descriptor.mLayout)
        return {};
    CLayoutPass pass(Rect{0, 0, parentSize.mWidth, parentSize.mHeight}, parentSize, nullptr, false);
    Group group = AloneIn(pass, descriptor, parentSize);
    pass.PlaceGroup(group);
    return group.mEntries.front().mRect;
}

} // namespace ZT
