#pragma once
// The GTK card's indeterminate bar, drawn with cairo: a track with round ends in the border
// colour and a segment in the secondary colour that sweeps across it, never outside the track.

#include "card_model.h"

#include <cairo.h>

// Draws the whole bar in the width x height area at the origin. phase runs from 0 to 1 over one
// sweep: at 0 the segment is just off the left end, at 1 just off the right end.
void drawCardBar(cairo_t* cr, double width, double height, double phase,
                 const card::ColourSet& colours);
