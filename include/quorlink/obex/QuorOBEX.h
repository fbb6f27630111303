/// @file
/// Reserved for object exchange over the library's links; declares nothing yet.
#pragma once
