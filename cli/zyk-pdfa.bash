# Bash completion for zyk-pdfa.
_zyk_pdfa() {
  local cur prev cmd
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  cmd=${COMP_WORDS[1]}
  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "convert check report batch --help --version" -- "$cur"))
    return
  fi
  case $prev in
    --part) COMPREPLY=($(compgen -W "1 2" -- "$cur")); return ;;
    -j|--jobs) COMPREPLY=($(compgen -W "1 2 4 8" -- "$cur")); return ;;
    -o|--output|--log) COMPREPLY=($(compgen -f -- "$cur")); return ;;
  esac
  local opts="-q --quiet -v --verbose -h --help --"
  case $cmd in
    convert) opts="$opts --part -o --output --replace-input" ;;
    check) opts="$opts --json" ;;
    batch) opts="$opts --part -j --jobs --log --skip-existing --allow-nested --replace-input" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
  elif [ "$cmd" = batch ]; then
    COMPREPLY=($(compgen -d -- "$cur"))
  else
    COMPREPLY=($(compgen -f -X '!*.[pP][dD][fF]' -- "$cur") $(compgen -d -- "$cur"))
  fi
}
complete -o filenames -F _zyk_pdfa zyk-pdfa
