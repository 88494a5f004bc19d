#pragma once

// Hostile markup for the panes: one shape nested as deep as a byte budget allows. Shared by the tests,
// the fuzz target and the benchmark; plain C++ so the benchmark's peer (no Qt) can use it too.

#include <string>
#include <vector>

namespace nestedmarkup {

struct Shape {
    const char *name;
    std::vector<const char *> opens; // taken in turn, one per level
};

// Every shape worth trying: block containers, lists, tables, inline runs and mixtures of them.
inline const std::vector<Shape> &shapes()
{
    static const std::vector<Shape> all = {
        {"table", {"<table><tr><td>"}},
        {"ul", {"<ul><li>"}},
        {"ol", {"<ol><li>"}},
        {"dl", {"<dl><dd>"}},
        {"blockquote", {"<blockquote>"}},
        {"span", {"<span>"}},
        {"font", {"<font color=red>"}},
        {"a", {"<a href=#>"}},
        {"p", {"<p>"}},
        {"pre", {"<pre>"}},
        {"h1", {"<h1>"}},
        {"inline", {"<i>", "<u>", "<s>", "<em>", "<strong>", "<code>", "<sub>", "<sup>"}},
        {"center", {"<center>"}},
        {"div-style", {"<div style=\"margin-left:1px\">"}},
        {"mixed", {"<ul><li>", "<table><tr><td>", "<ol><li>"}},
    };
    return all;
}

inline const Shape *shape(const std::string &name)
{
    for (const Shape &s : shapes()) {
        if (name == s.name)
            return &s;
    }
    return nullptr;
}

// Opening tags of the shape, level after level, until `bytes` would be exceeded once `tail` is
// appended; never closed. `levels`, when given, receives the depth reached.
inline std::string nested(const Shape &shape, size_t bytes, const std::string &tail = "x", int *levels = nullptr)
{
    std::string out;
    int depth = 0;
    for (size_t i = 0;; ++i) {
        const std::string open = shape.opens[i % shape.opens.size()];
        if (out.size() + open.size() + tail.size() > bytes)
            break;
        out += open;
        ++depth;
    }
    if (levels)
        *levels = depth;
    return out + tail;
}

// Exactly `depth` levels of the shape, then `tail`.
inline std::string atDepth(const Shape &shape, int depth, const std::string &tail = "x")
{
    std::string out;
    for (int i = 0; i < depth; ++i)
        out += shape.opens[size_t(i) % shape.opens.size()];
    return out + tail;
}

} // namespace nestedmarkup
