#pragma once
#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace zanth {

// Artwork ids: 129 is the 800 x 600 picture of the controller, 130..177 the released/pressed pictures of the
// items (each the size of its item's rectangle, the lower id of a pair released), 160/161 the LED off/on,
// 181 the application icon.
inline constexpr int kBackgroundArtId = 129;
inline constexpr int kAppIconArtId = 181;

// Logical size of picture `id` (the item's width x height); an invalid size when there is no such picture.
QSize ArtworkSize(int id);

// Picture `id` rendered for a screen with the given device pixel ratio: the pixmap has
// ceil(size x devicePixelRatio) pixels and carries that ratio, so painting it at its item's rectangle is
// crisp on HiDPI screens and pixel for pixel at ratio 1. Null for an unknown id.
QPixmap RenderArtwork(int id, qreal devicePixelRatio);

// The application's icon (window, About box), rendered at the usual icon sizes.
QIcon AppIcon();

}  // namespace zanth
