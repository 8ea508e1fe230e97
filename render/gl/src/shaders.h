// GLSL 1.10 sources of the renderer (no version line). The simple pair samples one texture
// coordinate; the blend pair cross-fades the two lenses of a dual-fisheye frame across the
// band |x| < 0.055 of the sphere, whose lens axis is x.
//
// A fragment shader is put together from two strings: how a picture's colour is read
// (Picture(uv): one RGB texture, or three planes of YUV 4:2:0 turned into RGB by the matrix
// u_YuvToRgb) and what the shader does with it. Everything after the sampling is the same
// for both kinds of picture.
#pragma once

namespace spherolux::render {

inline constexpr const char* kSimpleVertexShader =
    "uniform mat4 u_MMatrix;\n"
    "uniform mat4 u_PMatrix;\n"
    "attribute vec4 a_Position;\n"
    "attribute vec2 a_UV;\n"
    "varying vec2 v_UV;\n"
    "void main()\n"
    "{\n"
    "gl_Position = u_PMatrix * u_MMatrix * a_Position;\n"
    "v_UV = a_UV;\n"
    "}\n";

inline constexpr const char* kBlendVertexShader =
    "uniform mat4 u_MMatrix;\n"
    "uniform mat4 u_PMatrix;\n"
    "attribute vec4 a_Position;\n"
    "attribute vec2 a_UV;\n"
    "attribute vec2 a_UVB;\n"
    "varying vec2 v_UV;\n"
    "varying vec2 v_UVB;\n"
    "varying float v_pos_x;\n"
    "void main()\n"
    "{\n"
    "gl_Position = u_PMatrix * u_MMatrix * a_Position;\n"
    "v_pos_x = a_Position.x;\n"
    "v_UV = a_UV.xy;\n"
    "v_UVB = a_UVB.xy;\n"
    "}\n";

// Picture(uv) of a 32-bit RGB picture (a photo or a decoded frame in BGRA).
inline constexpr const char* kRgbPictureSource =
    "uniform sampler2D sTexture;\n"
    "vec4 Picture(vec2 uv)\n"
    "{\n"
    "return texture2D(sTexture, uv);\n"
    "}\n";

// Picture(uv) of a planar YUV picture: luma in sTexture, the colour differences in sTextureU
// and sTextureV (single-channel textures, the same coordinates over the whole picture).
inline constexpr const char* kYuvPictureSource =
    "uniform sampler2D sTexture;\n"
    "uniform sampler2D sTextureU;\n"
    "uniform sampler2D sTextureV;\n"
    "uniform mat4 u_YuvToRgb;\n"
    "vec4 Picture(vec2 uv)\n"
    "{\n"
    "return u_YuvToRgb * vec4(texture2D(sTexture, uv).r, texture2D(sTextureU, uv).r,\n"
    "                         texture2D(sTextureV, uv).r, 1.0);\n"
    "}\n";

inline constexpr const char* kSimpleFragmentBody =
    "varying vec2 v_UV;\n"
    "void main()\n"
    "{\n"
    "gl_FragColor = Picture(v_UV);\n"
    "}\n";

// One lens of a two-lens frame where the cross-fade gives the other no weight: what the blend
// computes there, without reading the other lens.
inline constexpr const char* kLensFragmentBody =
    "varying vec2 v_UV;\n"
    "void main()\n"
    "{\n"
    "gl_FragColor = Picture(v_UV);\n"
    "gl_FragColor.a = 0.0;\n"
    "}\n";

// The cross-fade: lens B's weight falls from 1 to 0 across the band |x| < 0.055
// (kSeamBandWidth of render/lens_split.h).
inline constexpr const char* kBlendFragmentBody =
    "varying vec2 v_UV;\n"
    "varying vec2 v_UVB;\n"
    "varying float v_pos_x;\n"
    "void main()\n"
    "{\n"
    "vec4 colA = Picture(v_UV);\n"
    "vec4 colB = Picture(v_UVB);\n"
    "colA.a = 1.0;\n"
    "colB.a = 1.0;\n"
    "float alpha = 0.5 - (v_pos_x / 0.11);\n"
    "if (alpha <= 0.0) {\n"
    "alpha = 0.0;\n"
    "} else if (alpha >= 1.0) {\n"
    "alpha = 1.0;\n"
    "}gl_FragColor = colB * alpha + colA * (1.0 - alpha);\n"
    "gl_FragColor.a = 0.0;\n"
    "}\n";

}  // namespace spherolux::render
