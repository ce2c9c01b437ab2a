// The fixed text of the HTML preview page, around the track data that
// RenderHtmlPreview puts between the two.
#pragma once

namespace tq::app {

// From <!DOCTYPE html> to the opening of the data's <script> element.
extern const char kHtmlPageHead[];
// From the closing of the data's <script> element to </html>.
extern const char kHtmlPageTail[];

}  // namespace tq::app
