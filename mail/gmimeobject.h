#pragma once
// GMime for the composer and the reader of composed messages: its objects owned as smart pointers,
// the library set up once for the process.

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include <gmime/gmime.h>

#include <memory>

struct GObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <class T> using GPtr = std::unique_ptr<T, GObjectUnref>;

// g_mime_init, once, from whichever thread comes first.
void initGMime();
