# bash completion for quillmar-cli: commands, options and their values, files for --drive, --log,
# --undo and the FILE and DIR operands, the ranges of verify.
_quillmar_cli() {
  local cur prev words cword
  _init_completion || return
  local commands="list inspect mirror copy-mpeg copy-photo patch join backup restore undo verify
                  demo"
  local options="--drive --limit --cluster --yes --quiet --log --json --help --version
                 --photo --mpeg --format-photo --reset --undo --undo-limit --force --verify"
  case "$prev" in
    --drive | --log | --undo)
      _filedir
      return ;;
    --mpeg)
      COMPREPLY=($(compgen -W "keep reset reformat" -- "$cur"))
      return ;;
    --format-photo | --reset)
      COMPREPLY=($(compgen -W "yes no" -- "$cur"))
      return ;;
    --photo)  # "No change" is one word: given quoted (No\ change), not split in two
      local size
      while IFS= read -r size; do
        COMPREPLY+=("$(printf '%q' "$size")")
      done < <(compgen -W "'No change' 1MB 2MB 5MB 10MB 20MB 50MB 100MB 200MB 500MB 1GB 2GB 3GB
                           4GB 5GB 10GB 20GB" -- "$cur")
      return ;;
    --limit | --cluster | --undo-limit)
      return ;;
  esac
  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  local i command="" operands=0
  for ((i = 1; i < cword; i++)); do
    case "${words[i]}" in
      --drive | --log | --limit | --cluster | --photo | --mpeg | --format-photo | --reset | \
        --undo | --undo-limit)
        ((i++)) ;;
      -*) ;;
      *) if [ -z "$command" ]; then command="${words[i]}"; else ((operands += 1)); fi ;;
    esac
  done
  case "$command" in
    "") COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    backup | restore) _filedir rtv ;;
    undo) _filedir qun ;;
    verify) ((operands == 2)) && COMPREPLY=($(compgen -W "system mpeg photo all" -- "$cur")) ;;
    demo) _filedir -d ;;
  esac
}
complete -F _quillmar_cli quillmar-cli
