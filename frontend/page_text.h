// The readable text of a small HTML page of ours (the advertisement page),
// for the advertisement window's plain-text view where no browser engine
// works. Not an HTML parser: it knows the few tags and entities such a
// page uses and makes something readable of anything else. Portable; uses
// the standard library only.
#pragma once

#include <string>

// The page's text without <head>, <script> and <style> and without tags.
// <br> and the ends of paragraphs, headings, list items and divisions
// break the line, and these blocks and lists start on a line of their
// own; a list item starts with "- ". &amp; &lt; &gt; &quot;
// &#39; &nbsp; and numeric entities (&#NN;, &#xHH;) are decoded, numeric
// ones outside printable ASCII as '?'. Runs of blanks become one, lines
// are trimmed, at most one empty line stands in a row, none at either end.
// Lines end in CR LF, as an edit control wants.
std::string pageText(const std::string& html);
