#include <gtest/gtest.h>

#include "scene/document.h"

TEST(Scene, Builds) { scene::Document d; EXPECT_TRUE(d.objects().empty()); }
