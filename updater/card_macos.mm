// The status card on macOS: a borderless, non-opaque floating window with a layer-backed rounded
// card, three labels and a small indeterminate bar, built from the portable card model. Built
// with ARC. show() runs on the main thread; setStatus() hands its texts to the main queue.
#include "card_model.h"
#include "status_card.h"

#import <AppKit/AppKit.h>
#import <QuartzCore/QuartzCore.h>
#include <dispatch/dispatch.h>

#include <memory>
#include <optional>
#include <string>

// The card's views. Filled once by show() on the main thread, read only on the main thread.
@interface CardViews : NSObject
@property(nonatomic, strong) NSWindow* window;
@property(nonatomic, strong) NSTextField* headline;
@property(nonatomic, strong) NSTextField* detail;
@property(nonatomic, strong) NSProgressIndicator* progress;
@end

@implementation CardViews
@end

namespace {

NSRect toNSRect(card::Rect r) {
    return NSMakeRect(r.x, r.y, r.width, r.height);
}

NSColor* toColour(card::Rgb c) {
    return [NSColor colorWithSRGBRed:c.red green:c.green blue:c.blue alpha:1.0];
}

// Text for a label; texts that are not valid UTF-8 show as nothing rather than raising.
NSString* toText(const std::string& text) {
    NSString* converted = [NSString stringWithUTF8String:text.c_str()];
    return converted ? converted : @"";
}

NSFontWeight toWeight(card::Weight weight) {
    switch (weight) {
    case card::Weight::bold:
        return NSFontWeightBold;
    case card::Weight::semibold:
        return NSFontWeightSemibold;
    case card::Weight::regular:
        break;
    }
    return NSFontWeightRegular;
}

// The visible frame of the main screen (without menu bar and Dock), if there is a screen.
std::optional<card::Rect> mainVisibleFrame() {
    NSScreen* screen = [NSScreen mainScreen];
    if (!screen) return std::nullopt;
    const NSRect area = [screen visibleFrame];
    return card::Rect{CGRectGetMinX(area), CGRectGetMinY(area),
                      CGRectGetMaxX(area) - CGRectGetMinX(area),
                      CGRectGetMaxY(area) - CGRectGetMinY(area)};
}

// The best match of the application's appearance, translated to the model's names.
card::Appearance chosenAppearance() {
    NSAppearanceName match = [[NSApp effectiveAppearance]
        bestMatchFromAppearancesWithNames:@[ NSAppearanceNameDarkAqua, NSAppearanceNameAqua ]];
    std::optional<std::string_view> name;
    if ([match isEqualToString:NSAppearanceNameDarkAqua]) {
        name = card::darkAquaName;
    } else if ([match isEqualToString:NSAppearanceNameAqua]) {
        name = card::aquaName;
    }
    return card::appearanceFromBestMatch(name);
}

NSTextField* makeLabel(card::Element element, const card::ColourSet& colours) {
    NSTextField* label = [NSTextField
        labelWithString:toText(std::string(card::initialTextOf(element).value_or("")))];
    [label setFrame:toNSRect(card::frameBottomLeft(element))];
    const card::Font font = card::fontOf(element).value_or(card::Font{});
    [label setFont:[NSFont systemFontOfSize:font.size weight:toWeight(font.weight)]];
    [label setTextColor:toColour(card::textColour(
                            colours, card::textRoleOf(element).value_or(card::TextRole::primary)))];
    [label setLineBreakMode:NSLineBreakByTruncatingTail];
    return label;
}

// Builds the window in the fixed order: window, look, content view, colours, layer, labels, bar.
void buildCard(CardViews* views) {
    const card::Rect place = card::placement(mainVisibleFrame());
    NSWindow* window = [[NSWindow alloc] initWithContentRect:toNSRect(place)
                                                   styleMask:NSWindowStyleMaskBorderless
                                                     backing:NSBackingStoreBuffered
                                                       defer:NO];
    views.window = window;
    [window setOpaque:NO];
    [window setBackgroundColor:[NSColor clearColor]];
    [window setLevel:NSFloatingWindowLevel];
    [window setCollectionBehavior:NSWindowCollectionBehaviorCanJoinAllSpaces |
                                  NSWindowCollectionBehaviorStationary];
    [window setHasShadow:YES];

    NSView* content =
        [[NSView alloc] initWithFrame:NSMakeRect(0, 0, card::contentWidth, card::contentHeight)];
    [content setWantsLayer:YES];

    const card::ColourSet colours = card::colours(chosenAppearance());
    NSColor* cardColour = toColour(colours.card);
    NSColor* borderColour = toColour(colours.border);

    CALayer* layer = [content layer];
    [layer setBackgroundColor:[cardColour CGColor]];
    [layer setCornerRadius:card::cornerRadius];
    [layer setBorderWidth:card::borderWidth];
    [layer setBorderColor:[borderColour CGColor]];

    [window setContentView:content];

    [content addSubview:makeLabel(card::Element::caption, colours)];
    views.headline = makeLabel(card::Element::headline, colours);
    [content addSubview:views.headline];
    views.detail = makeLabel(card::Element::detail, colours);
    [content addSubview:views.detail];

    NSProgressIndicator* progress = [[NSProgressIndicator alloc]
        initWithFrame:toNSRect(card::frameBottomLeft(card::Element::bar))];
    views.progress = progress;
    [progress setStyle:NSProgressIndicatorStyleBar];
    [progress setIndeterminate:YES];
    [progress setControlSize:NSControlSizeSmall];
    // Whatever the system draws for the bar stays inside its track's rounded shape: the layer's
    // contents are clipped to its corner radius, half the bar's height.
    [progress setWantsLayer:YES];
    [[progress layer] setCornerRadius:card::frameBottomLeft(card::Element::bar).height / 2];
    [[progress layer] setMasksToBounds:YES];
    [progress startAnimation:nil];
    [content addSubview:progress];

    [window orderFrontRegardless];
}

class AppKitCard final : public StatusCard {
  public:
    // Main thread, from the launch handler, once.
    void show() override {
        @try {
            buildCard(views_);
        } @catch (NSException*) {
            // No card can be shown; the update goes on and its log still tells the outcome.
        }
    }

    // Any thread. The block holds the views strongly and touches them only on the main queue;
    // the main queue is serial, so changes apply in call order. Before show() the labels are
    // nil and the change is dropped.
    void setStatus(std::string headline, std::string detail) override {
        NSString* headlineText = toText(headline);
        NSString* detailText = toText(detail);
        CardViews* views = views_;
        dispatch_async(dispatch_get_main_queue(), ^{
          [views.headline setStringValue:headlineText];
          [views.detail setStringValue:detailText];
        });
    }

  private:
    CardViews* views_ = [[CardViews alloc] init];
};

} // namespace

std::unique_ptr<StatusCard> makePlatformCard() {
    return std::make_unique<AppKitCard>();
}
