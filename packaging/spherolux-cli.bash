# bash completion for spherolux-cli
_spherolux_cli() {
  local cur prev words cword
  _init_completion || return
  local commands="convert grids merge probe recover reframe stitch"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      -q | --quiet) ;;
      *) command=${words[i]}; break ;;
    esac
  done
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands --quiet --help --version" -- "$cur"))
    return
  fi
  case $prev in
    --quality) COMPREPLY=($(compgen -W "low medium high" -- "$cur")); return ;;
    --codec) COMPREPLY=($(compgen -W "h264 h265" -- "$cur")); return ;;
    --rotation) COMPREPLY=($(compgen -W "0 90 180 270" -- "$cur")); return ;;
    --output-dir) _filedir -d; return ;;
    --range | --size) return ;;
    --side) _filedir; return ;;
    --path) _filedir json; return ;;
  esac
  if [[ $cur == -* ]]; then
    local options="--help"
    case $command in
      convert) options+=" --range --quality --codec --rotation --output-dir --overwrite --allow-missing" ;;
      reframe) options+=" --path --size --range --quality --codec --output-dir --overwrite --allow-missing" ;;
      stitch) options+=" --rotation --quality --output-dir --overwrite" ;;
      merge) options+=" --output-dir --overwrite" ;;
      grids) options+=" --size" ;;
      recover) options+=" --side" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  case $command in
    stitch) _filedir '@(jpg|JPG|jpeg|JPEG)' ;;
    convert | merge | recover | reframe) _filedir '@(mp4|MP4|mov|MOV)' ;;
    *) _filedir ;;
  esac
}
complete -F _spherolux_cli spherolux-cli
