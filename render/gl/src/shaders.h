// GLSL 1.10 sources of the renderer (no version line). The simple pair samples one texture
// coordinate; the blend pair cross-fades the two lenses of a dual-fisheye frame across the
// band |x| < 0.055 of the sphere, whose lens axis is x.
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

inline constexpr const char* kSimpleFragmentShader =
    "varying vec2 v_UV;\n"
    "uniform sampler2D sTexture;\n"
    "const float M_PI = 3.14159265358979;\n"
    "const float M_PI2 = M_PI/2.0;\n"
    "const float M_2PI = M_PI*2.0;\n"
    "void main()\n"
    "{\n"
    "gl_FragColor = texture2D(sTexture, v_UV);\n"
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

inline constexpr const char* kBlendFragmentShader =
    "varying vec2 v_UV;\n"
    "varying vec2 v_UVB;\n"
    "varying float v_pos_x;\n"
    "uniform sampler2D sTexture;\n"
    "void main()\n"
    "{\n"
    "vec4 colA = texture2D(sTexture, v_UV);\n"
    "vec4 colB = texture2D(sTexture, v_UVB);\n"
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
